#include "app/trimora.h"

int main() { return trimora_main(); }
