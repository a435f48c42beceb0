# Headless demo: reconstructs a slice range of the phantom scan in
# demo-out/scan (written by vorlo2-phantom) and saves every slice as a data
# file, a PNG image and a float TIFF under demo-out/, after a centre search
# around the scan's centre on slice 32. Run from the repository root:
#   build/vorlo2 -nw -e -b resources/demo.bat -x
:echo demo scan: loading
images_new_on_load 1
ct_rot_ax_is_v 1
ct_auto_gen_sinogram 1
images_load demo-out/scan proj_*.img
i0_load demo-out/scan/I0.img
bg_load demo-out/scan/BG.img
ct_cor 128
ct_slice_from 0
ct_slice_to 63
ct_slice_step 1
ct_threads 8
auto_save_data_path demo-out/data
auto_save_data_name phantom
auto_save_data_tag demo
auto_save_data 1
auto_save_image_path demo-out/images
auto_save_image_name phantom
auto_save_image_tag demo
auto_save_image 1
auto_save_tiff_path demo-out/tiff
auto_save_tiff_name phantom
auto_save_tiff_tag demo
auto_save_tiff 1
calc_ct2 1
ct_auto_exec 1
:echo demo scan: centre search on slice 32
ct_proc_slice 32
ct_try_cor 126 130 1
:echo demo scan: reconstructing
calc_exec
:echo demo scan: done
