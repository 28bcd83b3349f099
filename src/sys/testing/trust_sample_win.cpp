// A small program the build signs in every test variant (signed, unsigned,
// another company, self-signed, altered) for the trust tests.
int main() { return 0; }
