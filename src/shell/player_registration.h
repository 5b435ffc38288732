#pragma once

// Registers the SVF and then the XSVF player with the global registry, once, whichever of the two
// are built in. Front ends call it before they create their controller.
void RegisterPlayers();
