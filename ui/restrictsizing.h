#pragma once
// Where the mouse pointer is on the screen.

namespace RestrictSizing {

// The vertical screen position of the mouse pointer, in pixels.
int GetCursorY();

} // namespace RestrictSizing
