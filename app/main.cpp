// Vantelo's entry point: bring up the application object, create the main
// window first and the data module second, run the loop, shut down.
#include "app/TApplication.h"
#include "app/TSingleInstance.h"
#include "app/TStartup.h"
#include "mainwin/TFormMain.h"
#include "store/TDataFolder.h"
#include "store/TShareDataModule.h"

int main(int argc, char** argv)
{
    // Run where the database is: the start folder's, else the user's data folder.
    const vantelo::TDataFolder::TChoice place = vantelo::TDataFolder::EnterForStart();
    vantelo::TApplication application(argc, argv);
    if (vantelo::TSingleInstance::HandOver(place.folder + "/" + vantelo::TDataFolder::kDatabaseName))
        return 0;  // another window has this database: it was brought to the front
    return vantelo::RunTool(application, [&] {
        application.CreateModule(vantelo::FormMain);
        application.CreateModule(vantelo::ShareDataModule);
    });
}
