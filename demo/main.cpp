#include "demo/demo_server.h"

int main(int argc, char** argv) { return brevan::RunDemoServer(argc, argv); }
