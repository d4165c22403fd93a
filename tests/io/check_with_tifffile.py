"""Reads the sample files of tifffile_samples with tifffile, as analysis
tools do, and checks them against the manifest written beside them:
pixels, axes and shapes, OME physical sizes and channel names, and the
pyramid levels. Prints 'N passed, N failed' and exits non-zero on a
failure."""

import json
import os
import sys
import xml.etree.ElementTree as ElementTree

import numpy
import tifffile


def check_file(folder, entry, failures):
    path = os.path.join(folder, entry["file"])
    with tifffile.TiffFile(path) as tif:
        if not tif.is_ome:
            failures.append(f"{entry['file']}: not read as OME-TIFF")
            return
        ome = ElementTree.fromstring(tif.ome_metadata)
        ns = {"ome": ome.tag.split("}")[0].strip("{")}
        images = ome.findall("ome:Image", ns)
        if len(tif.series) != len(entry["series"]):
            failures.append(f"{entry['file']}: {len(tif.series)} series, expected {len(entry['series'])}")
            return
        for index, (series, expected) in enumerate(zip(tif.series, entry["series"])):
            where = f"{entry['file']} series {index}"
            if series.axes != expected["axes"]:
                failures.append(f"{where}: axes {series.axes}, expected {expected['axes']}")
            if list(series.shape) != expected["shape"]:
                failures.append(f"{where}: shape {series.shape}, expected {expected['shape']}")
                continue
            data = series.asarray()
            raw = numpy.fromfile(os.path.join(folder, expected["raw"]), dtype=expected["dtype"])
            if data.dtype != numpy.dtype(expected["dtype"]):
                failures.append(f"{where}: dtype {data.dtype}")
            elif raw.size != data.size or not numpy.array_equal(raw.reshape(data.shape), data):
                failures.append(f"{where}: pixels differ")
            levels = len(series.levels) - 1
            if levels != expected["levels"]:
                failures.append(f"{where}: {levels} pyramid levels, expected {expected['levels']}")
            for level in range(1, levels + 1):
                shape = series.levels[level].shape
                previous = series.levels[level - 1].shape
                y, x = series.axes.index("Y"), series.axes.index("X")
                if shape[y] != (previous[y] + 1) // 2 or shape[x] != (previous[x] + 1) // 2:
                    failures.append(f"{where}: level {level} shape {shape} is no halving of {previous}")
            pixels = images[index].find("ome:Pixels", ns)
            for axis, value in zip("XYZ", expected["physical"]):
                text = pixels.get("PhysicalSize" + axis)
                if value == 0.0:
                    continue
                unit = pixels.get("PhysicalSize" + axis + "Unit", "µm")
                scale = {"µm": 1.0, "nm": 1e-3, "mm": 1e3, "m": 1e6}.get(unit)
                if text is None or scale is None or abs(float(text) * scale - value) > 1e-12 * max(1.0, value):
                    failures.append(f"{where}: PhysicalSize{axis} {text} {unit}, expected {value} µm")
            names = [c.get("Name") for c in pixels.findall("ome:Channel", ns)]
            if expected["channels"] and names != expected["channels"]:
                failures.append(f"{where}: channel names {names}, expected {expected['channels']}")


def main():
    folder = sys.argv[1]
    with open(os.path.join(folder, "manifest.json"), encoding="utf-8") as f:
        manifest = json.load(f)
    passed = failed = 0
    for entry in manifest:
        failures = []
        try:
            check_file(folder, entry, failures)
        except Exception as error:  # a reader that chokes is a failure too
            failures.append(f"{entry['file']}: {type(error).__name__}: {error}")
        for failure in failures:
            print("FAIL", failure)
        failed += 1 if failures else 0
        passed += 0 if failures else 1
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
