# Newcomer entry points: `make run` and `make test` (see README.md).
BUILD ?= build
JOBS  ?= $(shell nproc)

.PHONY: deps build programs run test test-sanitize test-fuzz bench clean install uninstall screenshot

deps:
	@scripts/install-deps.sh

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

# The programs only: a first `make run` compiles no test.
programs: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS) --target kaldoria kaldoria-db kaldoria-manager

run: programs
	@test -e $(BUILD)/dojang.mdb || $(BUILD)/kaldoria-db create $(BUILD)/dojang.mdb --sample
	$(BUILD)/kaldoria

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

# The whole suite again with AddressSanitizer and UndefinedBehaviorSanitizer.
# Qt is not instrumented; its own leaks are suppressed, never the project's.
test-sanitize: deps
	cmake -S . -B build-sanitize -G Ninja -DKALDORIA_SANITIZE=ON
	cmake --build build-sanitize -j $(JOBS)
	cd build-sanitize && QT_QPA_PLATFORM=offscreen \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/tests/reliability/lsan.supp:print_suppressions=0 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --output-on-failure -j $(JOBS)

# The fuzz targets (clang, libFuzzer): the seed corpus replayed, then a short
# run of each; scripts/fuzz.sh without --brief runs them long.
test-fuzz: deps
	BUILD_FUZZ=$(CURDIR)/build-fuzz scripts/fuzz.sh --brief

# Speed and memory figures for the README's Benchmarks section (not run by CI).
bench: deps
	bench/run.sh $(BUILD)

# A per-user copy under ~/.local/share/kaldoria with a menu entry; uninstall keeps the database.
install: programs
	@scripts/install.sh $(BUILD)

uninstall:
	@scripts/install.sh --uninstall

# Refreshes docs/screenshot.png and docs/screenshot-manager.png from the built programs under Xvfb.
screenshot: programs
	@scripts/screenshot.sh $(BUILD)

clean:
	rm -rf $(BUILD)

# Windows cross-build (README, "Windows (cross-build)"). The toolchain: the
# mingw-w64 compilers and Wine from apt, then Qt, SQLite, OpenSSL, libpq and
# ICU built once from Debian's source packages into a cache outside the clone.
.PHONY: windows-toolchain windows-check windows-bare
windows-toolchain:
	@scripts/windows/install-deps.sh
	@scripts/windows/toolchain.sh

# The cached libraries built into one program for Linux and for Windows
# (run under Wine): both must print the same facts.
windows-check: windows-toolchain
	@scripts/windows/check.sh

# The bare Korean Qt window built with that toolchain and started under Wine:
# proves the toolchain and prints the baseline start-up time.
windows-bare: windows-toolchain
	@scripts/windows/bare-window.sh

# Kaldoria for Windows: the application folder build-windows/Kaldoria (the
# programs, their DLLs, Qt's Korean texts and a sample dojang.mdb), then the
# per-user installer build-windows/Kaldoria-VERSION-setup.exe and the portable
# build-windows/Kaldoria-VERSION-portable.zip made from the same files.
.PHONY: windows test-windows test-installer
windows:
	@scripts/windows/build.sh
	@scripts/windows/package.sh

# The test suite built for Windows and run under Wine.
test-windows:
	@scripts/windows/test.sh

# The installer and the zip tried under Wine in a private copy of the Wine
# prefix: silent install, kaldoria-db and the window in the installed folder,
# silent uninstall keeping dojang.mdb; the zip in a Korean folder with blanks.
test-installer: windows
	@scripts/windows/installer-test.sh
