"""Release metadata: one version string (pyproject.toml) behind version() and
the installed package's metadata, and the license that ships with it."""
import importlib.metadata
import pathlib
import tomllib

import pytest

import nimbic_native as nn

ROOT = pathlib.Path(__file__).resolve().parent.parent
PROJECT = tomllib.loads((ROOT / "pyproject.toml").read_text())["project"]
SOURCE_VERSION = PROJECT["version"]


def installed_distribution():
    """The installed distribution that the imported module comes from, or
    None when it comes from a development build (PYTHONPATH=build)."""
    try:
        dist = importlib.metadata.distribution("nimbic_native")
    except importlib.metadata.PackageNotFoundError:
        return None
    module = pathlib.Path(nn.__file__).resolve()
    if any(pathlib.Path(dist.locate_file(f)).resolve() == module for f in dist.files or []):
        return dist
    return None


def test_version_is_the_one_in_pyproject():
    assert nn.version() == SOURCE_VERSION


def test_version_is_the_installed_metadata_version():
    dist = installed_distribution()
    if dist is None:
        pytest.skip("the module is a development build, not an installed package")
    assert nn.version() == importlib.metadata.version("nimbic_native") == dist.version
    assert dist.metadata["License-Expression"] == PROJECT["license"] == "MIT"
    licenses = [f for f in dist.files if f.name == "LICENSE"]
    assert licenses and pathlib.Path(dist.locate_file(licenses[0])).read_text() == (ROOT / "LICENSE").read_text()
