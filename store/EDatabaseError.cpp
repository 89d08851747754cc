#include "store/EDatabaseError.h"

#include "store/StoreTexts.h"
#include "store/TComponent.h"

namespace vantelo {

std::string EDatabaseError::PrefixedText(const std::string& message, const TComponent* component)
{
    if (component == nullptr || component->Name().empty())
        return message;
    return Format(StoreTexts::kComponentPrefix, component->Name().c_str(), message.c_str());
}

void EDatabaseError::Raise(const std::string& message, const TComponent* component)
{
    throw EDatabaseError(PrefixedText(message, component));
}

}  // namespace vantelo
