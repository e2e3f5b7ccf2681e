#include "app/ui/Startup.h"

int main(int argc, char** argv) {
    return chimora::runWizard(argc, argv);
}
