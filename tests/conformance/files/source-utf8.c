/* Grüße: conformance source */
#include <stdio.h>

int main(void)
{
    puts("Grüße");
    return 0;
}
