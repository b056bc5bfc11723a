// kvscan: placeholder until the scanner lands.
int main() { return 2; }
