#pragma once
// The program has no business on the network: whatever the QML or the rich
// text beside the program names (an <img src="http://..."> in the changelog,
// say), nothing may be fetched from anywhere but local files and the
// resource bundle.

class QQmlEngine;

// Gives engine a network access that refuses every URL that is not a local
// file or a resource: such a request fails at once, without a connection,
// and is named in a warning. Call before anything loads.
void refuseRemoteContent(QQmlEngine& engine);
