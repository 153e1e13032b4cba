// Included after the Xlib headers by code that uses Qt too: removes the Xlib macros whose names
// collide with Qt's.
#undef KeyPress
#undef KeyRelease
#undef FocusIn
#undef FocusOut
#undef None
#undef Bool
#undef Status
