#include "talvo/channels/ipc_writer.hpp"

#include <cstddef>
#include <string>

#include "talvo/circuit/leaf.hpp"
#include "talvo/core/clock.hpp"
#include "talvo/core/panic.hpp"

namespace talvo {

double current_timestamp() {
  const std::optional<double> now = unix_timestamp();
  if (!now) throw Panic("Acquiring UNIX timestamp failed!");
  return *now;
}

Result<void> AcceptedLengths::check(std::size_t length) const {
  if (rule_ == nullptr) {
    if (length > 0) return {};
    return fail("an empty value cannot be written: a leaf holds at least one entry");
  }
  if (rule_(length, value_size_)) return {};
  return refuse(detail::leaf_length_refused(length, value_size_).error().message());
}

std::unexpected<Error> AcceptedLengths::refuse(const std::string& why) const {
  if (input_.empty()) return fail("cannot write: " + why);
  return fail("cannot write to " + input_ + ": " + why);
}

std::unexpected<Error> AcceptedLengths::refuse_unread() const {
  return refuse("nothing reads its channel any more");
}

IpcWriter::IpcWriter(ValueSender sender, AcceptedLengths accepted)
    : sender(std::move(sender)), accepted(std::move(accepted)) {}

Result<void> IpcWriter::write(Value value, std::optional<double> timestamp) const {
  if (Result<void> accepted_length = accepted.check(value.size()); !accepted_length) {
    return accepted_length;
  }
  const double stamp = timestamp ? *timestamp : current_timestamp();
  if (!sender.send(ValueMessage{std::move(value), stamp})) return accepted.refuse_unread();
  return {};
}

}  // namespace talvo
