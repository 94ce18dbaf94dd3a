#!/bin/sh
# The Jupyter kernel of KORW: its protocol checks (python3-jupyter-kernel-test) and a
# demonstration notebook executed headless (python3-nbconvert), against the kernel spec of the
# source tree and the korw just built. Skipped (77) where Debian's Jupyter packages are missing.
# run_kernel_tests.sh KORW SOURCE_DIR
set -eu
korw=$(realpath "$1")
source=$(realpath "$2")
python=/usr/bin/python3
$python -c 'import ipykernel, jupyter_client, jupyter_kernel_test, nbconvert' 2>/dev/null || exit 77
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/jupyter/kernels" "$work/runtime" "$work/notebook"
cp -R "$source/jupyter" "$work/jupyter/kernels/korw"
export JUPYTER_PATH="$work/jupyter" JUPYTER_RUNTIME_DIR="$work/runtime"
export JUPYTER_DATA_DIR="$work/data" JUPYTER_CONFIG_DIR="$work/config" IPYTHONDIR="$work/ipython"
export KORW_EXECUTABLE="$korw" HOME="$work" PYDEVD_DISABLE_FILE_VALIDATION=1
cd "$work/notebook"
PYTHONPATH="$source/tests/jupyter" $python -m unittest -v kernel_test

# The demonstration notebook: a fit and a plot, its outputs checked.
cp "$source/demos/korw-demo.ipynb" .
$python -m nbconvert --to notebook --execute --ExecutePreprocessor.timeout=60 \
    --output executed.ipynb korw-demo.ipynb >/dev/null 2>&1 || {
    echo "the demonstration notebook did not run"
    exit 1
}
$python - <<'PY'
import json, sys
cells = json.load(open("executed.ipynb"))["cells"]
def joined(t):
    return "".join(t) if isinstance(t, list) else t
text = "".join(joined(o.get("text", "")) for c in cells if c["cell_type"] == "code"
               for o in c["outputs"])
pngs = [o for c in cells if c["cell_type"] == "code" for o in c["outputs"]
        if "image/png" in o.get("data", {})]
for number in ("1.9921", "105.376", "R-square = 0.9993"):
    if number not in text:
        sys.exit("the fit's numbers are missing from the notebook: " + number)
if not pngs:
    sys.exit("the notebook shows no PNG picture")
print("notebook: %d PNG picture(s), the fit's numbers present" % len(pngs))
PY
ls KORW*.OUT >/dev/null 2>&1 || { echo "no session output kept beside the notebook"; exit 1; }
