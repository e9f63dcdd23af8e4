# make run   builds the tool and runs it on a clip that the project generates
# make test  builds and runs every test, plain and under the sanitizers
# make bench builds and runs the micro-benchmarks
# make python builds the Python module into build/python (PYTHONPATH=build/python)
#             and runs its tests
# make install installs the tool, the library, its header and package files,
#              the Python module (for /usr/bin/python3), the manual page and
#              the bash completion (PREFIX=/some/where to choose the prefix;
#              default /usr/local)

JOBS ?= $(shell nproc)
MAKEFLAGS += --no-print-directory
BUILD := build
ASAN_BUILD := build-asan
TSAN_BUILD := build-tsan
FUZZ_BUILD := build-fuzz
FUZZ_SECONDS ?= 60
RUN_DIR := out
DEMO_W := 512
DEMO_H := 288

.PHONY: all deps test-deps python-deps tool build asan tsan run test test-plain test-asan test-tsan bench fuzz python install clean

all: build

deps:
	scripts/install-deps build

test-deps:
	scripts/install-deps test

python-deps:
	scripts/install-deps python

build: test-deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j $(JOBS)

# Only the tool and the clip generator: no tests or benchmarks to build.
tool: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j $(JOBS) --target nrvq makeclip

asan: test-deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNRVQ_SANITIZE=ON
	cmake --build $(ASAN_BUILD) -j $(JOBS)

tsan: test-deps
	cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNRVQ_TSAN=ON
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target nrvq_tests nrvq

run: tool
	mkdir -p $(RUN_DIR)
	$(BUILD)/makeclip demo $(RUN_DIR)/demo.yuv
	cd $(RUN_DIR) && ../$(BUILD)/nrvq demo.yuv $(DEMO_W) $(DEMO_H)

test: test-plain test-asan test-tsan

test-plain: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

test-asan: asan
	ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS)

# The threaded engine and whole runs under ThreadSanitizer.
test-tsan: tsan
	TSAN_OPTIONS="halt_on_error=1 suppressions=$(CURDIR)/tests/tsan.supp" $(TSAN_BUILD)/nrvq_tests --gtest_filter='Engine*:Run*:DemoRun*:Signals*:Live*:Listen*'

# Every fuzz target for FUZZ_SECONDS, from its seed corpus; new inputs that
# widen coverage go to a scratch corpus, findings stop the run.
fuzz: test-deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNRVQ_FUZZ=ON -DBUILD_TESTING=OFF
	cmake --build $(FUZZ_BUILD) -j $(JOBS)
	for target in $(FUZZ_BUILD)/*_fuzz; do \
		name=$$(basename $$target _fuzz); mkdir -p $(FUZZ_BUILD)/corpus-$$name; \
		$$target -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 -artifact_prefix=$(FUZZ_BUILD)/$$name- \
			$(FUZZ_BUILD)/corpus-$$name fuzz/corpus/$$name || exit 1; \
	done

bench: build
	$(BUILD)/nrvq_bench

python: test-deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DNRVQ_PYTHON=ON -DPython3_EXECUTABLE=/usr/bin/python3
	cmake --build $(BUILD) -j $(JOBS) --target nrvq_python nrvq makeclip
	ctest --test-dir $(BUILD) --output-on-failure -R '^python\.'

# The prefix is given at configuration too: it decides where the Python
# module goes (lib/python3/dist-packages under /usr, else
# lib/python3.X/dist-packages).
install: python-deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DNRVQ_PYTHON=ON -DPython3_EXECUTABLE=/usr/bin/python3 \
		-DCMAKE_INSTALL_PREFIX=$(or $(PREFIX),/usr/local)
	cmake --build $(BUILD) -j $(JOBS) --target nrvq nrvqlib nrvq_python
	cmake --install $(BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(FUZZ_BUILD) $(RUN_DIR)
