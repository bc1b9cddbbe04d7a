// What each system's device back end tells the choice between it and the
// virtual camera (platform/driver.h), which is the same on every system.
#pragma once

namespace vimbra::platform {

// True when the kernel driver has the device whose name ends in the camera
// number's index character `index` ('0'..'9', 'A'..'V').
bool NativeDeviceExists(char index);

// How messages about the choice name the system's device back end.
extern const char* const kNativeDevicesName;

}  // namespace vimbra::platform
