// Names that come from outside (model files, the host script) and are to name one file in a folder
// of the plug-in's own.
#pragma once

#include <QString>

namespace orvanta {

// Whether `name` can only name an entry directly inside whatever folder it is joined to: not
// empty, neither "." nor "..", no path separator of either system ("/" or "\"), no colon (a drive,
// or a stream, on Windows) and no control character (U+0000 to U+001F, U+007F to U+009F). A name
// that passes may still name an existing link or folder there. Any thread.
bool isPlainFileName(const QString& name);

}  // namespace orvanta
