#include "channels/ipc_channel_impl.hpp"

namespace talvo {

template class Sender<ValueMessage>;
template class Sender<StopMessage>;
template class Receiver<ValueMessage>;
template class Receiver<StopMessage>;
template std::pair<ValueSender, ValueReceiver> channel<ValueMessage>();
template std::pair<StopSender, StopReceiver> channel<StopMessage>();

}  // namespace talvo
