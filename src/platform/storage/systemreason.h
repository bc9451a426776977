#pragma once

#include <QString>

// The system's reason for a failed file operation, worded for the user: the
// common causes in Japanese, followed by the system's own text so that nothing
// of the original is lost.
namespace SystemReason {

[[nodiscard]] QString text(int error);

} // namespace SystemReason
