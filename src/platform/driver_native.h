// What each system's device back end tells the choice between it and the
// virtual camera (platform/driver.h), which is the same on every system.
#pragma once

namespace vimbra::platform {

// True when the kernel driver has a device for any camera number.
bool AnyNativeDeviceExists();

// How messages about the choice name the system's device back end.
extern const char* const kNativeDevicesName;

}  // namespace vimbra::platform
