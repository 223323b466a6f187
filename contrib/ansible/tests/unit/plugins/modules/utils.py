# The usual harness of Ansible module unit tests: module arguments set as
# Ansible passes them, and exit_json/fail_json raising so a test can look at
# the result.
import json

from ansible.module_utils import basic
from ansible.module_utils.common.text.converters import to_bytes


def set_module_args(args):
    basic._ANSIBLE_ARGS = to_bytes(json.dumps({"ANSIBLE_MODULE_ARGS": args}))


class AnsibleExitJson(Exception):
    """The module ended with exit_json."""


class AnsibleFailJson(Exception):
    """The module ended with fail_json."""


def exit_json(*args, **kwargs):
    kwargs.setdefault("changed", False)
    raise AnsibleExitJson(kwargs)


def fail_json(*args, **kwargs):
    kwargs["failed"] = True
    raise AnsibleFailJson(kwargs)
