# Halvex's entries in the file manager's context menu (nautilus-python,
# Debian's python3-nautilus): each starts halvex-desktop on the selection.
import subprocess

from gi.repository import GObject, Nautilus

ACTIONS = [
    ("encrypt", "Encrypt"),
    ("decrypt", "Decrypt"),
    ("copy", "Make a self-extracting copy"),
    ("mail", "Encrypt for mail"),
]


class HalvexMenu(GObject.GObject, Nautilus.MenuProvider):
    def _run(self, _item, action, files):
        paths = [f.get_location().get_path() for f in files]
        paths = [p for p in paths if p]
        if paths:
            subprocess.Popen(["halvex-desktop", action] + paths, start_new_session=True)

    def _items(self, files):
        if not files:
            return []
        top = Nautilus.MenuItem(name="Halvex::Menu", label="Halvex")
        sub = Nautilus.Menu()
        top.set_submenu(sub)
        for action, label in ACTIONS:
            item = Nautilus.MenuItem(name="Halvex::" + action, label=label)
            item.connect("activate", self._run, action, files)
            sub.append_item(item)
        return [top]

    # Nautilus 43 (Debian 12) passes only the files; older ones a window first.
    def get_file_items(self, *args):
        return self._items(args[-1])
