// Vantelo's entry point: bring up the application object, create the main
// window first and the data module second, run the loop, shut down.
#include <typeinfo>

#include "app/TApplication.h"
#include "mainwin/TFormMain.h"
#include "store/TShareDataModule.h"

using namespace vantelo;

int main(int argc, char** argv)
{
    TApplication application(argc, argv);
    try {
        application.CreateModule(FormMain);
        application.CreateModule(ShareDataModule);
    } catch (const Exception& error) {
        application.ShowGenericReport(error.ClassName(), error.Message());
        return 1;
    } catch (const std::exception& error) {
        application.ShowGenericReport(typeid(error).name(), error.what());
        return 1;
    }
    application.RunLoop();
    application.ShutdownApplication();
    return 0;
}
