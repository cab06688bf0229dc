# Sourced by the other scripts: finds CPython 3.12, creates the project's
# virtual environment in .venv from the pinned requirements, and builds the
# wheel with pip (scikit-build-core) and installs it there.

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
VENV="$ROOT/.venv"
REQUIREMENTS="$ROOT/requirements.txt"

is_python312() {
    [ -x "$1" ] && "$1" -c 'import sys; sys.exit(sys.version_info[:2] != (3, 12))' 2>/dev/null
}

find_python312() {
    local pyenv_root="${PYENV_ROOT:-$HOME/.pyenv}" wanted candidate
    if [ -f "$ROOT/.python-version" ]; then
        wanted="$(head -n 1 "$ROOT/.python-version" | tr -d '[:space:]')"
        for candidate in "$pyenv_root"/versions/"$wanted"*/bin/python3.12; do
            if is_python312 "$candidate"; then echo "$candidate"; return 0; fi
        done
    fi
    candidate="$(command -v python3.12 || true)"
    if [ -n "$candidate" ] && is_python312 "$candidate"; then echo "$candidate"; return 0; fi
    for candidate in "$pyenv_root"/versions/3.12*/bin/python3.12; do
        if is_python312 "$candidate"; then echo "$candidate"; return 0; fi
    done
    return 1
}

ensure_venv() {
    if ! is_python312 "$VENV/bin/python"; then
        local python
        if ! python="$(find_python312)"; then
            echo "error: CPython 3.12 not found (looked at .python-version, python3.12 on PATH" \
                 "and ${PYENV_ROOT:-$HOME/.pyenv}/versions/3.12*); install it, e.g. 'pyenv install 3.12'" >&2
            exit 1
        fi
        rm -rf "$VENV"
        "$python" -m venv "$VENV"
    fi
    local stamp="$VENV/.requirements.sha256" sum
    # A file that includes requirements.txt is stale when that one changes too.
    sum="$({ cat "$REQUIREMENTS"
             if grep -qx -- '-r requirements.txt' "$REQUIREMENTS"; then cat "$ROOT/requirements.txt"; fi
           } | sha256sum | cut -d' ' -f1)"
    if [ "$(cat "$stamp" 2>/dev/null)" != "$sum" ]; then
        "$VENV/bin/python" -m pip install --quiet --disable-pip-version-check -r "$REQUIREMENTS"
        echo "$sum" > "$stamp"
    fi
    export PATH="$VENV/bin:$PATH"
}

# Builds the wheel into build/wheels/<venv name> and installs it; extra
# arguments go to pip (for example -Ccmake.define.ORVANE_SANITIZE=ON). The
# wheel stays there so that other environments can install the same build.
install_package() {
    local wheels
    wheels="$(wheel_dir "$VENV")"
    rm -rf "$wheels"
    (cd "$ROOT" && python -m pip wheel --quiet --disable-pip-version-check \
        --no-build-isolation --no-deps -w "$wheels" "$@" .)
    install_wheel_from "$wheels"
}

wheel_dir() { echo "$ROOT/build/wheels/$(basename "$1")"; }

install_wheel_from() {
    python -m pip install --quiet --disable-pip-version-check --force-reinstall --no-deps \
        "$1"/orvane-*.whl
}
