#include "ui/app/application.h"

int main(int argc, char** argv) { return ostel::ui::run_application(argc, argv); }
