"""Checks that the README prints the recipes in project/ as they are (--readme), or builds the
example project in project/, whose Makefile, CMakeLists.txt and meson.build are the
README's recipes as printed, with Make, CMake (Ninja and Unix Makefiles) and Meson, each on a
fresh copy of the project:

- with GNU windres, reading the compiled resources back: a fresh build, a rebuild that runs
  nothing, a changed companion that rebuilds exactly its outputs, a changed value, and a clean
  that leaves nothing and the source tree as it was;
- with the stand-in compiler, values that shells and build tools like to mangle.

Exits 77 (skipped) where windres, Meson or Ninja is missing, unless KVOWRAPPER_REQUIRE_RECIPE_TOOLS
is set, as CI sets it."""
import argparse
import os
import shutil
import subprocess
import sys
import time

import read_res

HERE = os.path.dirname(os.path.abspath(__file__))
WINDRES = "x86_64-w64-mingw32-windres"
OUTPUTS = {  # output: (source folder, edition)
    "app.debug.res": ("", "debug"),
    "app.release.res": ("", "release"),
    "setup.res": ("tools/setup", None),
}
AWKWARD_VALUES = [
    "Joe's App", "Tools;Utilities", 'a "quoted" b', "$HOME", "50%", "back\\slash", " spaced "
]


class Failure(Exception):
    pass


def run(command, cwd=None, env=None, check=True):
    result = subprocess.run(command, cwd=cwd, env=env, stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, text=True, check=False)
    if check and result.returncode != 0:
        raise Failure(f"failed ({result.returncode}): {' '.join(command)}\n{result.stdout}")
    return result.returncode


def snapshot(folder):
    """Every file below folder with its bytes."""
    files = {}
    for root, _, names in os.walk(folder):
        for name in names:
            path = os.path.join(root, name)
            with open(path, "rb") as file:
                files[os.path.relpath(path, folder)] = file.read()
    return files


class Project:
    """A fresh copy of the project, built by one generator through a wrapper that logs the name
    of each output it is started for."""

    def __init__(self, work, generator, wrapper, compiler, name=None):
        self.generator = generator
        self.root = os.path.join(work, name or generator)
        self.source = os.path.join(self.root, "source")
        self.build = os.path.join(self.root, "build")
        shutil.rmtree(self.root, ignore_errors=True)
        shutil.copytree(os.path.join(HERE, "project"), self.source)
        self.pristine = snapshot(self.source)
        self.log = os.path.join(self.root, "started")
        self.wrapper = os.path.join(self.root, "kvowrapper")
        with open(self.wrapper, "w", encoding="utf-8") as file:
            file.write("#!/bin/sh\nlast=\nfor a; do case $last in -o|-fo) out=$a;; esac; last=$a; "
                       f"done\necho \"${{out##*/}}\" >> '{self.log}'\nexec '{wrapper}' \"$@\"\n")
        os.chmod(self.wrapper, 0o755)
        self.compiler = compiler  # (path, name, flags, output option)
        self.product = None

    def output_folder(self):
        return os.path.join(self.source, "out") if self.generator == "make" else self.build

    def outputs(self):
        return {name: os.path.join(self.output_folder(), name) for name in OUTPUTS}

    def configure(self, product):
        path, name, flags, output = self.compiler
        self.product = product
        if self.generator.startswith("cmake"):
            kind = "Ninja" if self.generator == "cmake-ninja" else "Unix Makefiles"
            run(["cmake", "-S", self.source, "-B", self.build, "-G", kind,
                 f"-DKVOWRAPPER={self.wrapper}", f"-DKVO={path}", f"-DKVO_NAME={name}",
                 f"-DKVO_FLAGS={' '.join(flags)}", f"-DKVO_OUTPUT={output}",
                 f"-DPRODUCT={product}"])
        elif self.generator == "meson":
            options = [f"-Dkvowrapper={self.wrapper}", f"-Dkvo={path}", f"-Dkvo_name={name}",
                       f"-Dkvo_flags={','.join(flags)}", f"-Dkvo_output={output}",
                       f"-Dproduct={product}"]
            if os.path.isdir(self.build):
                run(["meson", "configure", self.build] + options)
            else:
                run(["meson", "setup", self.build, self.source] + options)

    def make(self, *goals, question=False):
        path, name, flags, output = self.compiler
        env = dict(os.environ, PRODUCT=self.product)
        return run(["make", "-C", self.source, "-j8", "-q" if question else "-s",
                    f"KVOWRAPPER={self.wrapper}", f"KVO={path}", f"KVO_NAME={name}",
                    f"KVO_FLAGS={' '.join(flags)}", f"KVO_OUTPUT={output}", *goals],
                   env=env, check=not question)

    def build_all(self):
        """Builds; returns the outputs the wrapper was started for, in order."""
        if os.path.exists(self.log):
            os.remove(self.log)
        if self.generator == "make":
            self.make()
        elif self.generator == "meson":
            run(["meson", "compile", "-C", self.build])
        else:
            run(["cmake", "--build", self.build, "-j", "8"])
        if not os.path.exists(self.log):
            return []
        with open(self.log, encoding="utf-8") as file:
            return sorted(file.read().split())

    def clean(self):
        if self.generator == "make":
            self.make("clean")
        elif self.generator == "meson":
            run(["meson", "compile", "-C", self.build, "--clean"])
        else:
            run(["cmake", "--build", self.build, "--target", "clean"])
        folder = self.output_folder()
        left = [name for name in (snapshot(folder) if os.path.isdir(folder) else {})
                if name.endswith((".res", ".rsrc"))]
        expect(not left, f"clean left {left}")
        expect(snapshot(self.source) == self.pristine, "clean left the source tree changed")


def expect(condition, message):
    if not condition:
        raise Failure(message)


def expect_started(project, started, expected, what):
    expect(started == sorted(expected),
           f"{project.generator}: {what} ran the compiler for {started}, not {sorted(expected)}")


def expect_compiled(project, version):
    """The resources compiled by windres hold the project's values and each source's own files."""
    product = project.product
    for name, path in project.outputs().items():
        folder, edition = OUTPUTS[name]
        held = read_res.read(path)
        base = os.path.join(project.source, folder)
        with open(os.path.join(base, "program.ico"), "rb") as file:
            icon = file.read()[22:]
        with open(os.path.join(base, "program.manifest"), "rb") as file:
            manifest = file.read()
        if edition:
            strings = {101: f"{product} {version}", 102: f"Edition: {edition}"}
            description = f"{product} ({edition})"
        else:
            strings = {201: f"{product} Setup {version}"}
            description = f"{product} Setup"
        version_values = {"FileDescription": description, "ProductName": product,
                          "ProductVersion": version}
        found = (held["strings"], held["version"], held["icons"], held["manifests"])
        wanted = (strings, version_values, [icon], {1: manifest})
        expect(found == wanted, f"{project.generator}: {name} holds {found}, not {wanted}")


def check_windres(work, wrapper, windres):
    compiler = (windres, WINDRES, ["-J", "rc", "-O", "res", "-c", "65001"], "-o")
    for generator in ["make", "cmake-ninja", "cmake-make", "meson"]:
        project = Project(work, generator, wrapper, compiler)
        project.configure("Example App")
        expect_started(project, project.build_all(), OUTPUTS, "a fresh build")
        expect_compiled(project, "2.1.0")
        expect_started(project, project.build_all(), [], "a rebuild with nothing changed")
        if generator == "make":
            expect(project.make(question=True) == 0, "make -q says an up-to-date build is not")
        for companion, rebuilt in [("resource.h", ["app.debug.res", "app.release.res"]),
                                   ("tools/setup/resource.h", ["setup.res"]),
                                   ("tools/setup/program.ico", ["setup.res"]),
                                   ("app.rsrc", ["app.debug.res", "app.release.res"])]:
            time.sleep(0.02)  # past the file system's clock step
            os.utime(os.path.join(project.source, companion))
            expect_started(project, project.build_all(), rebuilt, f"a touched {companion}")
        project.configure("Ünïcode App")
        expect_started(project, project.build_all(), OUTPUTS, "a changed value")
        expect_compiled(project, "2.1.0")
        expect_started(project, project.build_all(), [], "a rebuild after a changed value")
        project.clean()


def check_stand_in(work, wrapper, stand_in):
    """Awkward values reach the compiled output as they are, each rebuilding every output."""
    for generator in ["make", "cmake-ninja", "cmake-make", "meson"]:
        compiler = (stand_in, "kvo", [], "-fo")
        project = Project(work, generator, wrapper, compiler, name=generator + "-stand-in")
        # cmake -D trims the trailing spaces of a cache value, before the recipe sees it.
        values = [v for v in AWKWARD_VALUES if v == v.strip() or generator[:5] != "cmake"]
        for value in values:
            project.configure(value)
            expect_started(project, project.build_all(), OUTPUTS, f"the value {value!r}")
            shown = value.replace("\\", "/")  # as the wrapper writes a value's backslashes
            for name, path in project.outputs().items():
                line = f'"{shown} Setup 2.1.0"' if name == "setup.res" else f'"{shown} 2.1.0"'
                with open(path, encoding="utf-8") as file:
                    expect(line in file.read(), f"{generator}: {name} lacks {line}")
            if generator == "make":
                expect(project.make(question=True) == 0, f"make -q rebuilds {value!r}")
        project.clean()


def check_readme(readme):
    """Each recipe file is printed whole in the README, in a block under a line naming it."""
    with open(readme, encoding="utf-8") as file:
        text = file.read()
    for name in ["Makefile", "CMakeLists.txt", "meson.build", "meson_options.txt"]:
        with open(os.path.join(HERE, "project", name), encoding="utf-8") as file:
            recipe = file.read()
        heading = f"`tests/recipe/project/{name}`:\n\n```"
        start = text.find(heading)
        expect(start >= 0, f"the README does not print {name}")
        start = text.index("\n", start + len(heading)) + 1
        printed = text[start : text.index("```\n", start)]
        expect(printed == recipe, f"the README prints another {name} than tests/recipe/project")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--readme")
    parser.add_argument("--kvowrapper")
    parser.add_argument("--stand-in")
    parser.add_argument("--work")
    arguments = parser.parse_args()
    if arguments.readme:
        try:
            check_readme(arguments.readme)
        except Failure as failure:
            print(failure)
            return 1
        return 0
    needed = [WINDRES, "x86_64-w64-mingw32-gcc", "meson", "ninja", "make"]
    tools = {tool: shutil.which(tool) for tool in needed}
    missing = [tool for tool, path in tools.items() if path is None]
    if missing:
        print(f"the recipes need {', '.join(missing)} (Debian: binutils-mingw-w64-x86-64, "
              "gcc-mingw-w64-x86-64, meson, ninja-build)")
        return 1 if os.environ.get("KVOWRAPPER_REQUIRE_RECIPE_TOOLS") else 77
    try:
        check_windres(arguments.work, arguments.kvowrapper, tools[WINDRES])
        check_stand_in(arguments.work, arguments.kvowrapper, arguments.stand_in)
    except Failure as failure:
        print(failure)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
