// What the plug-in side hands the render-window program it starts, besides its arguments.
#pragma once

namespace xel {

// Environment variable holding the decimal id of the process that started the render window. A
// program started detached is re-parented on some systems, so its parent id does not name its
// starter; the render window watches this process instead.
inline constexpr char kStarterPidVariable[] = "XEL_RENDER_STARTER_PID";

// Environment variable holding the byte size of each of the render link's two segments, for both
// sides (the render window inherits it). Unset or out of range: the standard size. Small sizes let
// tests send messages larger than a segment quickly.
inline constexpr char kSegmentBytesVariable[] = "XEL_RENDER_SEGMENT_BYTES";

// Environment variable holding, in milliseconds, how long a send waits for a peer that takes
// nothing before it counts the peer as stalled, for both sides. Unset or out of range: the
// standard limit. A short limit lets tests stall a peer quickly.
inline constexpr char kStallLimitVariable[] = "XEL_RENDER_STALL_LIMIT_MS";

}  // namespace xel
