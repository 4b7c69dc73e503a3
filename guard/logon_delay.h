// Refusing the log-on of users whose delay is in force, and recording a
// warned candidate who leaves before the bump.
#pragma once

#include "host/host.h"

// Installed in chkpsw. Return nonzero to accept the password.
int checkPasswordHook(const char* argument);
// Connect hook: refuses a delayed user, and counts the log-on either way.
void onConnect();
// Disconnect hook: a leaving candidate gets a delay record.
void onDisconnect();
// Registration slot 6: as onDisconnect, unless the visit is no-tally.
void onHangup();
// Nonzero when the time of day lies in the Delay window.
int inDelayWindow(PackedTime time);
