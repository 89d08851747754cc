"""Walks the running window's accessible tree over AT-SPI and checks what a
screen reader gets: every control's name, then, after filling the fields and
pressing "搜索文件" through the bus, the grid's rows and its current row.
   atspi_dump.py <pid> <folder to search>"""
import sys
import time

import pyatspi

pid, folder = int(sys.argv[1]), sys.argv[2]
failures = []


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what)
    if not ok:
        failures.append(what)


def wait(condition, seconds=20):
    end = time.time() + seconds
    while time.time() < end:
        try:
            value = condition()
            if value:
                return value
        except Exception:  # the tree is still being built
            pass
        time.sleep(0.1)
    return None


def application():
    desktop = pyatspi.Registry.getDesktop(0)
    for app in desktop:
        if app is not None and app.get_process_id() == pid:
            return app
    return None


def walk(node, depth=0, out=None):
    out = [] if out is None else out
    out.append((depth, node))
    for child in node:
        if child is not None:
            walk(child, depth + 1, out)
    return out


app = wait(application)
if app is None:
    print("the application did not appear on the accessibility bus")
    sys.exit(1)
frame = wait(lambda: next((w for w in app if w.name == "Vantelo文件名称批量修改器"), None))
check(frame is not None, "the main window is a frame named by its caption")
if frame is None:
    sys.exit(1)
nodes = wait(lambda: [n for _, n in walk(frame)] if len(walk(frame)) > 8 else None)
for depth, node in walk(frame):
    print("  " * depth + f"{node.getRoleName()}: {node.name!r}")


def find(role, name):
    return next((n for n in nodes if n.getRoleName() == role and n.name == name), None)


fields = {label: find("text", label) for label in ("目录范围：", "目标字符：", "改为：")}
for label, field in fields.items():
    check(field is not None, f"text field named {label}")
check(find("check box", "修改后删除原文件") is not None, "check box named 修改后删除原文件")
check(find("push button", "....") is not None, "push button named ....")
search = find("push button", "搜索文件")
check(search is not None, "push button named 搜索文件")
check(find("push button", "修改文件") is not None, "push button named 修改文件")
table = find("table", "文件列表")
check(table is not None, "table named 文件列表")
check(not any(n.getRoleName() == "filler" and not n.name for n in nodes if n.parent == frame),
      "no unnamed filler among the window's controls")
if failures or table is None or search is None:
    sys.exit(1)

fields["目录范围："].queryEditableText().setTextContents(folder)
fields["目标字符："].queryEditableText().setTextContents("1")
action = search.queryAction()
press = next(i for i in range(action.nActions) if action.getName(i) in ("press", "Press", "click"))
action.doAction(press)
grid = table.queryTable()
rows = wait(lambda: grid.nRows if grid.nRows == 3 else None)
check(rows == 3, f"the grid reads 3 rows after the search (got {grid.nRows})")
check(grid.nColumns == 2, "the grid reads 2 columns")
check([grid.getColumnDescription(c) for c in range(grid.nColumns)] == ["文件编号", "文件名称"], "column titles")
names = sorted(grid.getAccessibleAt(r, 1).name for r in range(grid.nRows))
print("rows:", names)
check(names == ["a1.txt", "b1.txt", "c1.txt"], "the rows' file names")
check(list(grid.getSelectedRows()) == [0], "the current row is the first")
sys.exit(1 if failures else 0)
