#pragma once

// Registers the SVF and then the XSVF player with the global registry, once. Front ends call it
// before they create their controller.
void RegisterPlayers();
