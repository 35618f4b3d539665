// Program entry; the command line is parsed in driver/command_line.cpp.
int main() { return 3; }
