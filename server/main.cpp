// Placeholder until the vendor server lands.
int main() { return 0; }
