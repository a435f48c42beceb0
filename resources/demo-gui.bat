# Window demo: loads the phantom scan in demo-out/scan (written by
# vorlo2-phantom), reconstructs its middle slice on the single calculator and
# shows the result.  Run from the repository root:
#   build/vorlo2 -b resources/demo-gui.bat -x
:echo demo scan: loading
images_new_on_load 1
ct_rot_ax_is_v 1
ct_auto_gen_sinogram 1
images_load demo-out/scan proj_*.img
i0_load demo-out/scan/I0.img
bg_load demo-out/scan/BG.img
ct_cor 128
ct_proc_slice 32
auto_save_data_path demo-out/data
auto_save_data_name phantom
auto_save_data_tag demo
auto_save_image_path demo-out/images
auto_save_image_name phantom
auto_save_image_tag demo
auto_save_tiff_path demo-out/tiff
auto_save_tiff_name phantom
auto_save_tiff_tag demo
calc_ct1 1
:echo demo scan: reconstructing slice 32
calc_exec
show_ct1
:echo demo scan: done
