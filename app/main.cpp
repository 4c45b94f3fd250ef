#include "app/dialer.h"

int main(int argc, char** argv) { return RunDialer(argc, argv); }
