#pragma once
// Each executable links exactly one definition of this function, matching the
// hidapi implementation it links: the shipping program's reaches the kernel's
// hidraw nodes and has nothing to prepare; the demo program's plugs its
// simulated accessory into the in-process bus. main calls it before the QML
// loads, so the wizard finds the accessory from its first page on.
void prepareHidBackend();
