#include "store/TADOQuery.h"

#include "store/AdoTexts.h"

namespace vantelo {

TADOQuery::TADOQuery(TComponent* owner, std::string name) : TCustomADODataSet(owner, std::move(name))
{
    Command().SetCommandTextAlias(AdoTexts::kSqlProperty);
    sql_.SetOnChange([this] { SQLChanged(); });
}

TADOQuery::~TADOQuery()
{
    sql_.SetOnChange(nullptr);
}

void TADOQuery::SQLChanged()
{
    Close();
    Command().SetCommandText(sql_.Text());
}

}  // namespace vantelo
