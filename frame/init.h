// The module's one exported routine, called by the host once at start-up;
// everything else the host calls is installed from there.
#pragma once

extern "C" __attribute__((visibility("default"))) void _init__zorgaval();
