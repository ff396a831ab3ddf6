/* The sample's program: says hello, and with a file name writes its line
   there too, so that an install that runs it leaves a mark. */
#include <stdio.h>

int main(int argc, char** argv) {
  const char* line = "hello " HELLO_VERSION "\n";
  fputs(line, stdout);
  if (argc > 1) {
    FILE* marker = fopen(argv[1], "w");
    if (!marker || fputs(line, marker) < 0 || fclose(marker) != 0) return 3;
  }
  return 0;
}
