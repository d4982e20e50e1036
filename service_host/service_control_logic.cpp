// Stub: filled in with service mode.
