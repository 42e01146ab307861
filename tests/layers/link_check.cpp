// The link check of one layer: every object of the layer's library is linked
// (whole archive) against the layers below it only, so a call into a higher
// layer is an undefined symbol and fails the build. The program itself is
// never run.
int main() { return 0; }
