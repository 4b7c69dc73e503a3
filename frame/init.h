// The module's one exported routine, called by the host once at start-up.
#pragma once

extern "C" __attribute__((visibility("default"))) void _init__zorgaval();
