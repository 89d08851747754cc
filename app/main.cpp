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
    // The start folder's database, else the user's data folder's, opened by
    // its absolute path: the tool keeps running in the folder it started in.
    const vantelo::TDataFolder::TChoice database = vantelo::TDataFolder::ChooseForStart();
    vantelo::TApplication application(argc, argv);
    if (vantelo::TSingleInstance::HandOver(database.folder + "/" + vantelo::TDataFolder::kDatabaseName))
        return 0;  // another window has this database: it was brought to the front
    return vantelo::RunTool(application, [&] {
        application.CreateModule(vantelo::FormMain);
        application.CreateModule(vantelo::ShareDataModule, nullptr, database.database);
    });
}
