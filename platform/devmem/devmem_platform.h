// The platform operations on a Linux board: registers through /dev/mem.
#pragma once

namespace platform::devmem {

// The memory device VirtualCopy opens. The board binary never changes it;
// tests point it at a sparse file standing in for physical memory.
void SetDevicePathForTesting(const char* path);

}  // namespace platform::devmem
