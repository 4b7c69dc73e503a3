// placeholder until the module lands
extern "C" __attribute__((visibility("default"))) void _init__zorgaval() {}
