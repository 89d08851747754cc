// The batch's check of the whole list, kept with what it was made for (the
// searched directory, the target and replacement texts and the list as
// shown), so that the grid's row tooltips can say why the batch would refuse
// a row. A check is kept when the preview makes one, or made here on a
// worker thread when a tooltip asks and none fits; only one worker runs at a
// time, and one stuck on a folder that stopped answering is left behind
// (it owns everything it touches) while the tooltips show new names alone.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/TFileIdentity.h"

class QWidget;

namespace vantelo {

class TADOConnection;
class TFileOps;
class TRenamePreview;

class TListCheck : public QObject {
    Q_OBJECT
public:
    struct Key {
        std::string directory;
        std::string target;
        std::string replacement;
        uint64_t list = 0;  // changes whenever the grid's list is read afresh
        bool operator==(const Key&) const = default;
    };
    // Runs on the worker: checks every row and answers the result.
    using Work = std::function<std::shared_ptr<TRenamePreview>()>;

    explicit TListCheck(QObject* parent = nullptr);
    ~TListCheck() override;

    // The check kept for `key`; null when none fits.
    std::shared_ptr<const TRenamePreview> Result(const Key& key) const;
    void Keep(const Key& key, std::shared_ptr<const TRenamePreview> result);
    // Runs `work` on a worker for `key`, unless a check for it is kept or a
    // worker is still running. Finished() follows once it is kept.
    void Start(const Key& key, Work work);
    // Starts checking the live rows of the table behind `connection` for
    // `key`, in the grid's order, read through a query of their own so the
    // grid's cursor stays where it is (see Start). A list that cannot be
    // read now leaves the tooltips without reasons. `expected` is the
    // searched folder's identity, `database` the tool's database.
    void StartOnLiveRows(const Key& key, TADOConnection* connection, std::optional<TFileIdentity> expected,
                         std::string database, TFileOps& ops);
    // Checks `names` (the list as shown) for `key` now, on a worker with
    // the progress window over `owner`, and keeps the check. Null when the
    // user cancelled: nothing is kept then.
    std::shared_ptr<const TRenamePreview> CheckNow(QWidget* owner, const Key& key, std::deque<std::string> names,
                                                   std::optional<TFileIdentity> expected, const std::string& database,
                                                   TFileOps& ops);
    // The tooltip of the list's row `listRow` holding `fileName`: its new
    // name, and the reason the batch would refuse it once the check for
    // `key` is kept and the row is still the one checked.
    QString Tip(const Key& key, size_t listRow, const std::string& fileName) const;
    bool Running() const { return job_ != nullptr; }

signals:
    void Finished();

private:
    struct Job;
    void Poll();

    Key key_;
    std::shared_ptr<const TRenamePreview> result_;
    Key jobKey_;
    std::shared_ptr<Job> job_;
    QTimer poll_;
};

}  // namespace vantelo
