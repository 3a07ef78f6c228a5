#include "ufrmQuorvantis.h"
int main(int, char**) { return 0; }
