// placeholder until the simulator program lands
int main() { return 1; }
