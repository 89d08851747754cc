#include "app/TStartup.h"

#include <cxxabi.h>
#include <memory>
#include <typeinfo>

#include "app/TApplication.h"

namespace vantelo {

int RunTool(TApplication& application, const std::function<void()>& createModules)
{
    try {
        createModules();
    } catch (const Exception& error) {
        application.ShowGenericReport(error.ClassName(), error.Message());
        return 1;
    } catch (const std::exception& error) {
        int status = 0;
        std::unique_ptr<char, decltype(&std::free)> name(
            abi::__cxa_demangle(typeid(error).name(), nullptr, nullptr, &status), &std::free);
        application.ShowGenericReport(status == 0 && name ? name.get() : typeid(error).name(), error.what());
        return 1;
    }
    application.RunLoop();
    application.ShutdownApplication();
    return 0;
}

}  // namespace vantelo
