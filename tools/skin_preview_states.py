#!/usr/bin/env python3
"""Adds preview windows to an unpacked skin so the skin viewer can show the
screens' states: the custom panel open, the other action pictures, hover
and disabled frames, the progress bar at a fraction. Controls the viewer
cannot draw yet (check boxes, slider) are stood in for by panels cut from
the same images. Only for looking at a skin; the shipped skin is untouched.
    skin_preview_states.py unpacked_folder"""
import copy
import json
import os
import re
import subprocess
import sys


def crop(folder, image, x, w, h, name):
    subprocess.run(["convert", os.path.join(folder, image), "-crop", "%dx%d+%d+0" % (w, h, x),
                    "+repage", os.path.join(folder, name)], check=True)
    return name


def stand_in_checks(folder, panel):
    for name, node in list(panel.items()):
        if not isinstance(node, dict):
            continue
        if node.get("type") == "dui_check":
            frame = 2 if node.get("checked") else 0
            box = crop(folder, node["img"], frame * node["imgw"], node["imgw"], node["imgh"],
                       "preview_check_%d.png" % frame)
            label = {k: v for k, v in node.items() if k.startswith("t_") or k == "txt"}
            label.update(type="dui_panel", x=node["x"], y=node["y"], w=node["w"], h=node["h"],
                         invalidateparent=True)
            panel[name] = {"type": "dui_panel", "x": node["x"], "y": node["y"], "w": node["imgw"],
                           "h": node["imgh"], "mid_pic": box}
            panel[name + "_label"] = label
        else:
            stand_in_checks(folder, node)


def stand_in_slider(folder, body, fraction):
    slider = body.pop("ProgressSlider")
    cap = 4
    width = 16
    parts = {}
    for role, image in (("track", slider["bg_pic"]), ("fill", slider["fst_pic"])):
        parts[role] = [crop(folder, image, 0, cap, slider["h"], "preview_%s_l.png" % role),
                       crop(folder, image, cap, width - 2 * cap, slider["h"], "preview_%s_m.png" % role),
                       crop(folder, image, width - cap, cap, slider["h"], "preview_%s_r.png" % role)]
    place = {k: slider[k] for k in ("x", "y", "h")}
    body["ProgressSlider"] = dict(place, type="dui_panel", w=slider["w"], left_pic=parts["track"][0],
                                  mid_pic=parts["track"][1], right_pic=parts["track"][2])
    filled = int(fraction * slider["w"])
    full = slider["w"] - filled < 3
    fill = dict(place, type="dui_panel", w=filled, left_pic=parts["fill"][0], mid_pic=parts["fill"][1])
    if full:
        fill["right_pic"] = parts["fill"][2]
    body["ProgressSlider_fill"] = fill


def main():
    folder = sys.argv[1]
    path = os.path.join(folder, "skin.txt")
    text = open(path, encoding="utf-8-sig").read()
    skin = json.loads(re.sub(r"^\s*//.*$", "", text, flags=re.M))

    main_window = skin["vxwebinstall_main"]
    stand_in_checks(folder, main_window)
    skin["vxwebinstall_main"] = main_window

    opened = copy.deepcopy(main_window)
    opened["h"] += 161
    opened["adupnbtm"]["y"] += 160
    skin["preview_main_open"] = opened

    update = copy.deepcopy(opened)
    body = update["body"]
    body["button_setup"]["btn_pic"] = "btn_update.png"
    body["tips"]["txt"] = "点击“一键升级”将关闭浏览器并升级到新版本"
    body["button_custom"]["enable"] = False
    panel = update["adupnbtm"]
    for side in ("frame_top", "frame_right", "frame_bottom", "frame_left"):
        panel[side]["fillcolor"] = "186,210,230"
    panel["button_ll"]["enable"] = False
    panel["freespacewarning"]["txt"] = "磁盘空间不足(建议可用磁盘空间大于100MB)，请您选择其他目录安装"
    skin["preview_main_update_open"] = update

    hover = copy.deepcopy(main_window)
    for name, frame in (("close", 1), ("minimize", 2), ("button_setup", 1), ("xkxy", 1),
                        ("button_custom", 1)):
        button = hover["body"][name]
        button["xs"] = frame * button["w"]
    hover["body"]["button_setup"]["btn_pic"] = "btn_open.png"
    hover["body"]["tips"]["txt"] = "您已安装了新版本zetora浏览器"
    skin["preview_main_hover"] = hover

    disabled = copy.deepcopy(main_window)
    for name in ("close", "minimize", "button_setup", "xkxy", "button_custom"):
        disabled["body"][name]["enable"] = False
    skin["preview_main_disabled"] = disabled

    for name, fraction, picture, percent in (("preview_proc_40", 0.4, "text_downloading.png", "40%"),
                                             ("preview_proc_90", 0.9, "text_installing.png", "90%"),
                                             ("preview_proc_100", 1.0, "text_installing.png", "100%")):
        proc = copy.deepcopy(skin["vxwebinstall_proc"])
        body = proc["body"]
        stand_in_slider(folder, body, fraction)
        body["process_msg"]["mid_pic"] = picture
        body["percent"]["txt"] = percent
        if fraction > 0.8:
            body["close"]["enable"] = False
        skin[name] = proc

    # The licence viewer, stood in for by a panel whose text wraps.
    licence = copy.deepcopy(skin["vxwebinstall_xukexieyi"])
    viewer = licence["body"].pop("EditPermItem")
    text = open(os.path.join(folder, viewer["t_file"]), encoding="utf-8-sig").read()
    licence["body"]["EditPermItem"] = {
        "type": "dui_panel", "x": viewer["x"], "y": viewer["y"], "w": viewer["w"] - 17, "h": viewer["h"],
        "fillcolor": "255,255,255", "txt": text, "t_color": "0,1,0", "t_size": viewer["t_size"] * 96 // 720,
        "t_yalign": "left", "t_limit": False, "t_len": 0}
    skin["preview_licence"] = licence

    prompt = copy.deepcopy(skin["vxwebinstall_qxaz"])
    for name, frame in (("button_qd", 1), ("button_qx", 1), ("close", 1)):
        prompt["body"][name]["xs"] = frame * prompt["body"][name]["w"]
    skin["preview_qxaz_hover"] = prompt

    open(path, "w", encoding="utf-8").write(json.dumps(skin, ensure_ascii=False, indent=1))


if __name__ == "__main__":
    main()
