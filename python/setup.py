"""The wheel carries a shared library, so it installs as platform code and
is tagged for the platform (py3-none-linux_x86_64), while its Python code
runs on any Python 3.9 or later."""

from setuptools import Distribution, setup

try:
    from setuptools.command.bdist_wheel import bdist_wheel
except ImportError:  # setuptools before 70.1
    from wheel.bdist_wheel import bdist_wheel


class with_library(Distribution):
    def has_ext_modules(self) -> bool:
        return True


class platform_wheel(bdist_wheel):
    def get_tag(self) -> tuple:
        return "py3", "none", super().get_tag()[2]


setup(distclass=with_library, cmdclass={"bdist_wheel": platform_wheel})
