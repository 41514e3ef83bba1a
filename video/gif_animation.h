#pragma once
// Animated GIF input through libzembra, which is loaded at run time by name
// (first beside the program, then on the library path) and bound by the names
// of its exports. OpenGifSource and CreateGifSink themselves are declared in
// video/frame_source.h.

#include <string>

// Loads and binds libzembra once per process. False, with the reason for the
// user in *message, when the library or one of the entry points the reader
// calls cannot be found; animated GIFs then open as still pictures.
bool ZembraAvailable(std::string* message = nullptr);

// For tests: libzembra is looked up in `folder` only (nothing beside the program
// or on the library path); an empty folder restores the normal lookup. Drops
// the current binding, so the next use binds again.
void SetZembraFolderForTesting(const std::string& folder);
