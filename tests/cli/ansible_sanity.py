#!/usr/bin/python3
"""Runs `ansible-test sanity` on the collection in the current folder with Debian's packages, without
downloads.

ansible-test gives each sanity test a virtual environment of its own and fills it from PyPI (pip,
pylint, voluptuous, yamllint, ...). Here each test gets a virtual environment that sees the system's
packages (Debian's python3-voluptuous, yamllint, pylint, pycodestyle, ...) and nothing is installed;
the import test keeps an environment without them, so a module that imports what a managed host may
not have still fails there. Arguments after the script's name are ansible-test's, after "sanity"
(--python defaults to this interpreter's version). Exit status 3, naming the Debian packages, when a
tool a sanity test needs is missing.
"""
import json
import os
import subprocess
import sys

# The tools the sanity tests run, and the Debian packages that bring them.
NEEDED = {
    "ansible_test": "ansible-core",
    "voluptuous": "python3-voluptuous",
    "yamllint": "yamllint",
    "pylint": "pylint",
    "pycodestyle": "pycodestyle",
    "jinja2": "python3-jinja2",
    "yaml": "python3-yaml",
}
missing = []
for needed_module, package in NEEDED.items():
    try:
        __import__(needed_module)
    except ImportError:
        missing.append(package)
if missing:
    print("missing for ansible-test sanity (Debian): " + " ".join(missing), file=sys.stderr)
    sys.exit(3)

# pylint: disable=wrong-import-position
from ansible_test._internal import main as ansible_test_main  # noqa: E402
from ansible_test._internal.commands import sanity  # noqa: E402
from ansible_test._internal.host_configs import VirtualPythonConfig  # noqa: E402


# The import test's environments hold only what ansible-test's own requirements give them (PyYAML, and
# Jinja2 for plugins), taken from the system's packages; the other tests see all of the system's.
IMPORT_PACKAGES = {
    "import": ("yaml", "_yaml"),
    "import.module": ("yaml", "_yaml"),
    "import.plugin": ("yaml", "_yaml", "jinja2", "markupsafe"),
}


def link_packages(interpreter, packages):
    """Links the system's copies of `packages` into the environment of `interpreter`."""
    code = "import sysconfig; print(sysconfig.get_paths()['purelib'])"
    site = subprocess.run([interpreter, "-c", code], check=True, capture_output=True, text=True).stdout.strip()
    os.makedirs(site, exist_ok=True)
    for package in packages:
        module = __import__(package)
        source = os.path.dirname(module.__file__) if module.__file__.endswith("__init__.py") else module.__file__
        target = os.path.join(site, os.path.basename(source))
        if not os.path.lexists(target):
            os.symlink(source, target)


def offline_virtualenv(args, python, name, coverage=False, minimize=False):  # pylint: disable=unused-argument
    """A virtual environment for sanity test `name` made from the system's packages."""
    own_packages = name in IMPORT_PACKAGES
    root = os.path.expanduser(os.path.join("~/.ansible/test/offline-venv", name, python.version))
    interpreter = os.path.join(root, "bin", "python")
    if not os.path.exists(interpreter):
        command = [python.path, "-m", "venv", "--without-pip"]
        if not own_packages:
            command.append("--system-site-packages")
        subprocess.run(command + [root], check=True)
        if own_packages:
            link_packages(interpreter, IMPORT_PACKAGES[name])
    meta_yaml = os.path.join(root, "meta.yaml.json")
    if not os.path.exists(meta_yaml):
        virtualenv = VirtualPythonConfig(version=python.version, path=interpreter)
        with open(meta_yaml, "w", encoding="utf-8") as file:
            json.dump(sanity.yamlcheck(virtualenv), file)
    return VirtualPythonConfig(version=python.version, path=interpreter)


if __name__ == "__main__":
    sanity.create_sanity_virtualenv = offline_virtualenv
    # ansible-test looks for "pythonX.Y" on the PATH: this interpreter's, not another one before it.
    os.environ["PATH"] = os.path.dirname(sys.executable) + os.pathsep + os.environ.get("PATH", "")
    arguments = sys.argv[1:]
    if "--python" not in arguments:
        arguments += ["--python", "%d.%d" % sys.version_info[:2]]
    sys.argv = ["ansible-test", "sanity"] + arguments
    ansible_test_main()
