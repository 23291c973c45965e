#include "plugin/export/render_output.h"

#include "XelRemoteRenderSender.h"
#include "plugin/lifecycle/plugin_state.h"

namespace orvanta {

// Each operation of the list, passed on with its arguments; the sender's answer is the output's.
#define ORVANTA_FORWARD_TO_SENDER(result, name, parameters, arguments, qualifier) \
    result SenderOutput::name parameters qualifier {                              \
        return m_sender.name arguments;                                           \
    }
ORVANTA_RENDER_OUTPUT_OPERATIONS(ORVANTA_FORWARD_TO_SENDER)
#undef ORVANTA_FORWARD_TO_SENDER

PluginOutput::PluginOutput() {
    if (XelRemoteRenderSender* sender = renderSender())
        m_output.emplace(*sender);
}

}  // namespace orvanta
