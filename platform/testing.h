// What the platform layer shows tests about itself, beyond the Win32 calls.
#pragma once

#ifndef _WIN32
namespace halvex::platform {

// CoInitialize calls less CoUninitialize calls on the calling thread. Zero
// once every batch has paired them; negative after an extra CoUninitialize.
int ComInitCount();

}  // namespace halvex::platform
#endif
