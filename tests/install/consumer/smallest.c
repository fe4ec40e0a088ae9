/* The smallest program against the installed library, C as its users write
 * it: status 0 when "*.c" matches "A.C". */
#include <wildcat.h>
int main(void) { return !pattern_match("*.c", "A.C"); }
