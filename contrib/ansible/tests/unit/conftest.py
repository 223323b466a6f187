# Makes this source tree importable as the collection tovrin.plant
# (ansible_collections.tovrin.plant), as Ansible imports it when installed.
import atexit
import os
import shutil
import sys
import tempfile

_COLLECTION = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
_ROOT = tempfile.mkdtemp(prefix="tovrin-plant-")
os.makedirs(os.path.join(_ROOT, "ansible_collections", "tovrin"))
os.symlink(_COLLECTION, os.path.join(_ROOT, "ansible_collections", "tovrin", "plant"))
sys.path.insert(0, _ROOT)
atexit.register(shutil.rmtree, _ROOT, True)
