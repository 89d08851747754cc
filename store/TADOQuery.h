// A query given by SQL text. Every change of the SQL list (each Clear, each
// Add) closes the query and hands the joined text (each line followed by
// "\r\n") to the command; a non-empty text on a query with a connection
// connects it there, silently: a failure shows only when the query opens.
#pragma once

#include "store/TCustomADODataSet.h"
#include "store/TStringList.h"

namespace vantelo {

class TADOQuery : public TCustomADODataSet {
public:
    explicit TADOQuery(TComponent* owner = nullptr, std::string name = {});
    ~TADOQuery() override;

    // The statement's lines; change it through Clear and Add.
    TStringList& SQL() { return sql_; }
    const TStringList& SQL() const { return sql_; }

private:
    void SQLChanged();

    TStringList sql_;
};

}  // namespace vantelo
