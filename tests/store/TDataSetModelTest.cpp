// Drives the cursor and a plain vector of rows with the same random
// operations and compares the current row, Bof/Eof, the record number and
// the window after every step.
#include "StoreTestSupport.h"

#include <random>

using namespace vantelo;
using namespace vantelo::test;

namespace {

struct ModelRow {
    int64_t id;
    std::u16string name;
};

// What the cursor should show: rows in result order, the current row, the flags.
struct Model {
    std::vector<ModelRow> rows;
    int current = -1;
    bool bof = true;
    bool eof = true;
    int64_t nextId = 1;

    bool Empty() const { return rows.empty(); }
    int LastIndex() const { return static_cast<int>(rows.size()) - 1; }

    int MoveBy(int distance)
    {
        if (distance == 0 || (distance > 0 && eof) || (distance < 0 && bof))
            return 0;
        bof = eof = false;
        if (distance > 0) {
            const int steps = std::min(distance, LastIndex() - current);
            current += steps;
            eof = steps < distance;
            return steps;
        }
        const int steps = std::min(-distance, current);
        current -= steps;
        bof = steps < -distance;
        return -steps;
    }
    void First()
    {
        current = Empty() ? -1 : 0;
        bof = true;
        eof = Empty();
    }
    void Last()
    {
        current = LastIndex();
        eof = true;
        bof = Empty();
    }
    void Append(std::u16string name)
    {
        rows.push_back({nextId++, std::move(name)});
        current = LastIndex();
        bof = eof = false;
    }
    // After a cancel or a post the cursor resyncs on its row.
    void Resynced()
    {
        bof = eof = Empty();
    }
};

class ModelRun {
public:
    explicit ModelRun(unsigned seed) : random_(seed)
    {
        query_.SetColumns(FileListColumns());
        const int rows = Pick(0, 40);
        for (int i = 0; i < rows; ++i) {
            std::u16string name = Name();
            query_.AppendRow({TNull{}, name, int16_t{1}});
            model_.rows.push_back({model_.nextId++, name});
        }
        source_.SetDataSet(&query_);
        link_.SetDataSource(&source_);
        link_.SetBufferCount(15);
        second_.SetDataSource(&source_);
        query_.Open();
        model_.First();
    }

    void Step(int step)
    {
        const int operation = Pick(0, 13);
        std::string what;
        switch (operation) {
        case 0:
            what = "next";
            query_.Next();
            model_.MoveBy(1);
            break;
        case 1:
            what = "prior";
            query_.Prior();
            model_.MoveBy(-1);
            break;
        case 2:
            what = "first";
            query_.First();
            model_.First();
            break;
        case 3:
            what = "last";
            query_.Last();
            model_.Last();
            break;
        case 4: {
            const int distance = Pick(-20, 20);
            what = "move by " + std::to_string(distance);
            const int moved = query_.MoveBy(distance);
            EXPECT_EQ(moved, model_.MoveBy(distance)) << what;
            break;
        }
        case 5: {
            what = "edit, set, post";
            const std::u16string name = Name();
            query_.Edit();
            Field("FileName").SetValue(name);
            query_.Post();
            if (model_.Empty()) {
                model_.Append(name);
            } else {
                model_.rows[static_cast<size_t>(model_.current)].name = name;
                model_.Resynced();
            }
            break;
        }
        case 6: {
            what = "insert, set, post";
            const std::u16string name = Name();
            query_.Insert();
            Field("FileName").SetValue(name);
            Field("FileEnable").SetAsBoolean(true);
            query_.Post();
            model_.Append(name);
            break;
        }
        case 7:
            what = "insert, cancel";
            query_.Insert();
            Field("FileName").SetValue(Name());
            query_.Cancel();
            model_.Resynced();
            break;
        case 8:
            what = "edit, cancel";
            query_.Edit();
            query_.Cancel();
            model_.Resynced();
            break;
        case 9: {
            if (model_.Empty())
                return;
            what = "edit, set, next";
            const std::u16string name = Name();
            query_.Edit();
            Field("FileName").SetValue(name);
            query_.Next();
            model_.rows[static_cast<size_t>(model_.current)].name = name;
            model_.Resynced();
            model_.MoveBy(1);
            break;
        }
        case 10: {
            if (model_.Empty())
                return;
            const int target = Pick(1, static_cast<int>(model_.rows.size()));
            what = "record number " + std::to_string(target);
            query_.SetRecNo(target);
            if (target != model_.current + 1) {
                model_.current = target - 1;
                model_.Resynced();
            }
            break;
        }
        case 11: {
            if (model_.Empty())
                return;
            const int target = Pick(0, model_.LastIndex());
            what = "go to bookmark of row " + std::to_string(target);
            query_.GotoBookmark(TBookmark(model_.rows[static_cast<size_t>(target)].id));
            model_.current = target;
            model_.Resynced();
            break;
        }
        case 12: {
            const int count = Pick(1, 25);
            what = "second link buffer count " + std::to_string(count);
            second_.SetBufferCount(count);
            break;
        }
        case 13:
            what = "paint";
            Paint();
            break;
        }
        Compare(step, what);
    }

private:
    int Pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }
    std::u16string Name()
    {
        const std::string text = "n" + std::to_string(Pick(0, 99999));
        return std::u16string(text.begin(), text.end());
    }
    TField& Field(const char* name) { return query_.FieldByName(name); }

    // What a grid does: read every row of the link's window, then restore.
    void Paint()
    {
        const int saved = link_.ActiveRecord();
        const int firstIndex = model_.current - query_.ActiveSlot() + link_.FirstRecord();
        for (int row = 0; row < link_.RecordCount(); ++row) {
            link_.SetActiveRecord(row);
            EXPECT_EQ(Field("FileIndex").AsInteger(), model_.rows[static_cast<size_t>(firstIndex + row)].id);
        }
        link_.SetActiveRecord(saved);
    }

    void Compare(int step, const std::string& what)
    {
        SCOPED_TRACE("step " + std::to_string(step) + ": " + what);
        ASSERT_EQ(query_.State(), TDataSetState::Browse);
        EXPECT_EQ(query_.Bof(), model_.bof);
        EXPECT_EQ(query_.Eof(), model_.eof);
        EXPECT_EQ(query_.RecordCount(), static_cast<int64_t>(model_.rows.size()));
        EXPECT_EQ(query_.IsEmpty(), model_.Empty());
        const int expectHeld = std::min(query_.BufferCount(), static_cast<int>(model_.rows.size()));
        EXPECT_EQ(query_.RowsHeld(), expectHeld);
        EXPECT_EQ(query_.BufferCount(), std::max(15, second_.BufferCount()));
        ExpectWindowConsistent(query_, &link_);
        ExpectWindowConsistent(query_, &second_);
        if (model_.Empty())
            return;
        const ModelRow& row = model_.rows[static_cast<size_t>(model_.current)];
        EXPECT_EQ(Field("FileIndex").AsInteger(), row.id);
        EXPECT_EQ(std::get<std::u16string>(Field("FileName").Value()), row.name);
        EXPECT_EQ(query_.RecNo(), model_.current + 1);
        // The window holds consecutive rows of the result around the current one.
        const int top = model_.current - query_.ActiveSlot();
        ASSERT_GE(top, 0);
        ASSERT_LE(top + query_.RowsHeld(), static_cast<int>(model_.rows.size()));
        std::vector<int64_t> expected;
        for (int i = 0; i < query_.RowsHeld(); ++i)
            expected.push_back(model_.rows[static_cast<size_t>(top + i)].id);
        EXPECT_EQ(WindowIds(query_), expected);
    }

    std::mt19937 random_;
    Model model_;
    Log log_;
    TMemoryDataSet query_{nullptr, "ADOQuery1"};
    TDataSource source_;
    RecordingLink link_{log_};
    RecordingLink second_{log_, "second"};
};

TEST(ReferenceModel, RandomOperationsAgreeWithAPlainVectorOfRows)
{
    for (unsigned seed = 1; seed <= 40; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        ModelRun run(seed);
        for (int step = 0; step < 300; ++step) {
            run.Step(step);
            if (::testing::Test::HasFatalFailure() || ::testing::Test::HasNonfatalFailure())
                return;
        }
    }
}

}  // namespace
