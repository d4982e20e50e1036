#pragma once

// Registers the service, describes it and starts it ("i").
void install_service();
// Stops the service if it runs and deletes it ("r", "UNREGSERVER").
void remove_service();
