// Placeholder until its issue is built.
int main() { return 0; }
