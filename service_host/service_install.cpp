#include "service_install.h"

// Stub: filled in with installation and removal.
void install_service() {}
void remove_service() {}
