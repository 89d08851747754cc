#include "store/OpenQuery.h"

#include "store/TADOQuery.h"
#include "store/TNotice.h"

namespace vantelo {

bool OpenQuery(TADOQuery& query, const std::string& sqlText, const std::string& failureMessage)
{
    try {
        query.Close();
        query.SQL().Clear();
        query.SQL().Add(sqlText);
        query.Open();
        return true;
    } catch (...) {
        ShowStoreNotice(failureMessage);
        return false;
    }
}

}  // namespace vantelo
